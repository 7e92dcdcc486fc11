zn_fuzzer(fuzz_h264enc_slices ${CMAKE_CURRENT_LIST_DIR}/fuzz_h264enc_slices.cpp
    ${PROJECT_SOURCE_DIR}/tests/h264enc/support/slice_fixture.cpp)
target_include_directories(fuzz_h264enc_slices PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(fuzz_h264enc_slices PRIVATE zn_h264enc zn_h264dec)
