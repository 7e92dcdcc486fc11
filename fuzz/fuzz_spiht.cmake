zn_fuzzer(fuzz_spiht fuzz_spiht.cpp)
target_link_libraries(fuzz_spiht PRIVATE zn_spiht)
