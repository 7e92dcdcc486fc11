zn_fuzzer(fuzz_fif fuzz_fif.cpp)
target_link_libraries(fuzz_fif PRIVATE zn_fractal)
