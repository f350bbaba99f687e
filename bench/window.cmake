# Included by bench/CMakeLists.txt when the window is built.
add_executable(window_bench window_bench.cpp)
target_link_libraries(window_bench PRIVATE greyplanes_window)
greyplanes_use_flags(window_bench)
add_executable(open_bench open_bench.cpp)
target_link_libraries(open_bench PRIVATE greyplanes_window)
greyplanes_use_flags(open_bench)
