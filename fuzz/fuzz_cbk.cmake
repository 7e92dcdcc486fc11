zn_fuzzer(fuzz_cbk fuzz_cbk.cpp)
target_link_libraries(fuzz_cbk PRIVATE zn_vq zn_image)
