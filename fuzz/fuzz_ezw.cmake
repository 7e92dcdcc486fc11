zn_fuzzer(fuzz_ezw fuzz_ezw.cpp)
target_link_libraries(fuzz_ezw PRIVATE zn_ezw)
