zn_fuzzer(fuzz_h264_views fuzz_h264_views.cpp ${PROJECT_SOURCE_DIR}/tests/h264/support/mb_writer.cpp
    ${PROJECT_SOURCE_DIR}/tests/h264/support/h264_stream_writer.cpp
    ${PROJECT_SOURCE_DIR}/tests/h264/support/cabac_writer.cpp
    ${PROJECT_SOURCE_DIR}/tests/h264/support/recording_host.cpp)
target_include_directories(fuzz_h264_views PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(fuzz_h264_views PRIVATE zn_h264dec_run)
