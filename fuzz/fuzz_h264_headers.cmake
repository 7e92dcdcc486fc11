zn_fuzzer(fuzz_h264_headers fuzz_h264_headers.cpp ${PROJECT_SOURCE_DIR}/tests/h264/support/header_walk.cpp)
target_include_directories(fuzz_h264_headers PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(fuzz_h264_headers PRIVATE zn_h264dec)
