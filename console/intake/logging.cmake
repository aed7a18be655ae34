# CSV logging, the text console log and the update tick (included by this
# folder's CMakeLists).
set(logging_dir ${CMAKE_CURRENT_LIST_DIR})

gaugeline_library(gaugeline_logging_portable
    SOURCES ${logging_dir}/csv_format.cpp ${logging_dir}/csv_path_check.cpp ${logging_dir}/log_console_block.cpp
            ${logging_dir}/logger_wait.cpp ${logging_dir}/logger.cpp ${logging_dir}/update_tick.cpp
    LIBS gaugeline_intake gaugeline_protocol)

gaugeline_test(logging_format_test
    SOURCES ${logging_dir}/csv_format_test.cpp ${logging_dir}/log_console_block_test.cpp
            ${logging_dir}/csv_path_check_test.cpp
    LIBS gaugeline_logging_portable LABELS intake logging)
gaugeline_test(logging_test
    SOURCES ${logging_dir}/logger_wait_test.cpp ${logging_dir}/logger_test.cpp ${logging_dir}/update_tick_test.cpp
    LIBS gaugeline_logging_portable LABELS intake logging)
gaugeline_test(logging_concurrency_test SOURCES ${logging_dir}/logger_concurrency_test.cpp
    LIBS gaugeline_logging_portable LABELS intake logging concurrency)
