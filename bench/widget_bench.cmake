# The Widget benchmark (bench/widget_run.sh): the baseline in plain C on
# the same libpng. `--target kx4bench_widget` builds it.
add_executable(kx4bench_widget_baseline widget_baseline.c)
target_link_libraries(kx4bench_widget_baseline PRIVATE kx4::png msimg32 gdi32 user32)
set_target_properties(kx4bench_widget_baseline PROPERTIES EXCLUDE_FROM_ALL ON RUNTIME_OUTPUT_DIRECTORY ${KX4_BENCH_DIR})
add_custom_target(kx4bench_widget DEPENDS kx4bench_widget_baseline kx4ui kx4widgetprobe kx4test)
