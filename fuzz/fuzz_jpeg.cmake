zn_fuzzer(fuzz_jpeg fuzz_jpeg.cpp)
target_link_libraries(fuzz_jpeg PRIVATE zn_jpeg)
