zn_fuzzer(fuzz_tables fuzz_tables.cpp)
target_link_libraries(fuzz_tables PRIVATE zn_image)
