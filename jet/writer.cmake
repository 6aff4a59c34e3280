# Writer layer (rows, data pages, long values, table definitions, page
# output), the database builder and the test-database generator. Part of
# hvq_jet so that the compactor reuses them.
target_sources(hvq_jet PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/page_writer.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/row_writer.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/data_page_builder.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/long_value_writer.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/table_def_writer.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/streaming_index_writer.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/usage_map_writer.cc
)
foreach(src database_builder.cc generate.cc testing/fixtures.cc)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${src})
    target_sources(hvq_jet PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${src})
  endif()
endforeach()

set(HVQ_JET_WRITER_TESTS)
foreach(t row_writer_test data_page_builder_test long_value_writer_test
          table_def_writer_test page_writer_test database_builder_test
          streaming_index_writer_test
          generate_test)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${t}.cc)
    list(APPEND HVQ_JET_WRITER_TESTS ${CMAKE_CURRENT_SOURCE_DIR}/${t}.cc)
  endif()
endforeach()
if(HVQ_JET_WRITER_TESTS)
  add_executable(jet_writer_test ${HVQ_JET_WRITER_TESTS})
  target_link_libraries(jet_writer_test PRIVATE hvq_jet GTest::gtest_main)
  target_compile_definitions(jet_writer_test PRIVATE
    HVQ_DEFAULT_CORPUS_DIR="${HVQ_DEFAULT_CORPUS_DIR}"
    HVQ_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    HVQ_JETTOOL="$<TARGET_FILE:jettool>")
  gtest_discover_tests(jet_writer_test DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 300)
endif()
