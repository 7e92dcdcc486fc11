zn_fuzzer(fuzz_hdr ${CMAKE_CURRENT_LIST_DIR}/fuzz_hdr.cpp)
target_link_libraries(fuzz_hdr PRIVATE zn_image)
