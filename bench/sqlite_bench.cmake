# The SQLite benchmark (bench/sqlite_run.sh): the baseline in plain C on
# the SQLite that kx4db.dll links. `--target kx4bench_sqlite` builds what
# it needs. Included from tests/sqlite/CMakeLists.txt.
add_executable(kx4bench_sqlite_baseline ${CMAKE_CURRENT_LIST_DIR}/sqlite_baseline.c)
target_link_libraries(kx4bench_sqlite_baseline PRIVATE kx4::sqlite psapi)
set_target_properties(kx4bench_sqlite_baseline PROPERTIES EXCLUDE_FROM_ALL ON
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
add_custom_target(kx4bench_sqlite DEPENDS kx4bench_sqlite_baseline kx4bench_module kx4db kx4test)
