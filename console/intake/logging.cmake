# CSV logging, the text console log and the update tick (included by this
# folder's CMakeLists).
set(logging_dir ${CMAKE_CURRENT_LIST_DIR})
# Dialog 138 for the tests that show it (test support, built only with the tests).
set(output_dialog_rc ${PROJECT_SOURCE_DIR}/tests/support/output_dialog_win.rc)

gaugeline_library(gaugeline_logging_portable
    SOURCES ${logging_dir}/csv_format.cpp ${logging_dir}/csv_path_check.cpp ${logging_dir}/log_console_block.cpp
            ${logging_dir}/logger_wait.cpp ${logging_dir}/logger.cpp ${logging_dir}/update_tick.cpp
            ${logging_dir}/csv_choices.cpp
    LIBS gaugeline_intake gaugeline_protocol)

gaugeline_test(logging_format_test
    SOURCES ${logging_dir}/csv_format_test.cpp ${logging_dir}/csv_path_check_test.cpp
    LIBS gaugeline_logging_portable LABELS intake logging)
gaugeline_test(logging_test
    SOURCES ${logging_dir}/logger_test.cpp ${logging_dir}/update_tick_test.cpp
    LIBS gaugeline_logging_portable LABELS intake logging)
gaugeline_test(logging_concurrency_test SOURCES ${logging_dir}/logger_concurrency_test.cpp
    LIBS gaugeline_logging_portable LABELS concurrency intake logging)

if(GAUGELINE_WINDOWS)
    # The Windows side: dialogs, the text console and the tick thread. The
    # display's share of a tick reaches the tick as calls (TickDisplay).
    gaugeline_library(gaugeline_logging
        SOURCES ${logging_dir}/csv_dialogs_win.cpp ${logging_dir}/log_console_win.cpp
                ${logging_dir}/update_tick_win.cpp
        LIBS gaugeline_logging_portable)
    target_link_libraries(gaugeline_logging PUBLIC comdlg32 user32)

    gaugeline_test(logging_win_test
        SOURCES ${logging_dir}/output_dialog_win_test.cpp ${logging_dir}/log_console_win_test.cpp
                ${output_dialog_rc}
        LIBS gaugeline_logging LABELS intake logging TIMEOUT 120)
    set_source_files_properties(${output_dialog_rc} PROPERTIES
        OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/resources/console/csv_items_dialog.rc;${PROJECT_SOURCE_DIR}/resources/console/console_resources.h")
endif()
