zn_fuzzer(fuzz_j2k_decode fuzz_j2k_decode.cpp ${PROJECT_SOURCE_DIR}/tests/jpeg2000/support/test_codec.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/test_support.cpp)
target_include_directories(fuzz_j2k_decode PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(fuzz_j2k_decode PRIVATE ZN_BUILD_DIR="${PROJECT_BINARY_DIR}")
target_link_libraries(fuzz_j2k_decode PRIVATE zn_jpeg2000)
