# Windows side of the Console: main window, painting, and the program.
gaugeline_library(gaugeline_display_win
    SOURCES plot_templates_win.cpp plot_paint_win.cpp level_meter_win.cpp readout_panel_win.cpp
            main_window_win.cpp console_entry_win.cpp
    LIBS gaugeline_common_win gaugeline_display gaugeline_logging gaugeline_connection gaugeline_intake gaugeline_gpu gaugeline_net
         gaugeline_protocol comctl32 msimg32 gdi32 user32 iphlpapi ws2_32)

set(console_rc ${PROJECT_SOURCE_DIR}/resources/console/console.rc)
add_executable(gaugeline_console WIN32 console_main_win.cpp ${console_rc})
set(console_res ${PROJECT_SOURCE_DIR}/resources/console)
set_source_files_properties(${console_rc} PROPERTIES OBJECT_DEPENDS
    "${console_res}/console_resources.h;${console_res}/agent_address_dialog.rc;${console_res}/csv_items_dialog.rc;${console_res}/console.manifest;${console_res}/console_large.ico;${console_res}/console_small.ico;${PROJECT_SOURCE_DIR}/resources/version.h")
target_include_directories(gaugeline_console PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/resources/console)
target_link_options(gaugeline_console PRIVATE -municode)
set_target_properties(gaugeline_console PROPERTIES
    OUTPUT_NAME KovraGaugelineConsole
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
target_link_libraries(gaugeline_console PRIVATE gaugeline_display_win)
gaugeline_split_debug_info(gaugeline_console)

gaugeline_test(display_win_test
    SOURCES paint_win_test.cpp
    LIBS gaugeline_display_win LABELS display gui TIMEOUT 90)
gaugeline_test(main_window_win_test
    SOURCES main_window_win_test.cpp ${console_rc}
    LIBS gaugeline_display_win LABELS display gui TIMEOUT 120)
target_include_directories(main_window_win_test PRIVATE ${PROJECT_SOURCE_DIR}/resources/console)
