zn_fuzzer(fuzz_bmp fuzz_bmp.cpp)
target_link_libraries(fuzz_bmp PRIVATE zn_image)
