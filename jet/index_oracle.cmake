# Included from jet/CMakeLists.txt: the index oracle test against libmdb
# (Debian mdbtools-dev). Skipped at configure time when libmdb is missing.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(HVQ_LIBMDB QUIET IMPORTED_TARGET libmdb)
endif()
if(HVQ_LIBMDB_FOUND)
  add_executable(jet_index_oracle_test
    ${CMAKE_CURRENT_SOURCE_DIR}/index_libmdb_oracle_test.cc)
  target_link_libraries(jet_index_oracle_test PRIVATE hvq_jet
                        PkgConfig::HVQ_LIBMDB GTest::gtest_main)
  target_compile_definitions(jet_index_oracle_test PRIVATE
    HVQ_DEFAULT_CORPUS_DIR="${HVQ_DEFAULT_CORPUS_DIR}")
  gtest_discover_tests(jet_index_oracle_test DISCOVERY_TIMEOUT 60)
else()
  message(STATUS "libmdb not found: jet_index_oracle_test is not built")
endif()
