# Windows side of the display: drawing templates and the painting of graphs,
# level meters and the readout panel.
gaugeline_library(gaugeline_display_win
    SOURCES plot_templates_win.cpp plot_paint_win.cpp level_meter_win.cpp readout_panel_win.cpp
    LIBS gaugeline_common_win gaugeline_display gaugeline_intake gaugeline_protocol msimg32 gdi32 user32)

gaugeline_test(display_win_test
    SOURCES paint_win_test.cpp
    LIBS gaugeline_display_win LABELS display gui TIMEOUT 90)
