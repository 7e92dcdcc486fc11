zn_fuzzer(fuzz_tiff fuzz_tiff.cpp)
target_link_libraries(fuzz_tiff PRIVATE zn_image)
