# Included from jet/CMakeLists.txt: the compactor library and its tests.
file(GLOB HVQ_JET_COMPACT_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_SOURCE_DIR}/compactor*.cc)
list(FILTER HVQ_JET_COMPACT_SOURCES EXCLUDE REGEX "_test\\.cc$")
add_library(hvq_jet_compact STATIC ${HVQ_JET_COMPACT_SOURCES})
target_link_libraries(hvq_jet_compact PUBLIC hvq_jet)

file(GLOB HVQ_JET_COMPACT_TESTS CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_SOURCE_DIR}/compactor*_test.cc)
if(HVQ_JET_COMPACT_TESTS)
  add_executable(jet_compact_test ${HVQ_JET_COMPACT_TESTS})
  target_link_libraries(jet_compact_test PRIVATE hvq_jet_compact
                        GTest::gtest_main)
  target_compile_definitions(jet_compact_test PRIVATE
    HVQ_DEFAULT_CORPUS_DIR="${HVQ_DEFAULT_CORPUS_DIR}")
  gtest_discover_tests(jet_compact_test)
endif()
