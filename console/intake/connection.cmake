# The connection request to an Agent (included by this folder's CMakeLists).
set(connection_sources ${CMAKE_CURRENT_LIST_DIR}/agent_connection.cpp)
if(GAUGELINE_WINDOWS)
    list(APPEND connection_sources ${CMAKE_CURRENT_LIST_DIR}/agent_connection_win.cpp)
endif()
gaugeline_library(gaugeline_connection SOURCES ${connection_sources}
    LIBS gaugeline_intake gaugeline_net gaugeline_protocol)
if(GAUGELINE_WINDOWS)
    target_link_libraries(gaugeline_connection PUBLIC iphlpapi ws2_32 user32)
endif()

gaugeline_test(agent_connection_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/agent_connection_test.cpp
    LIBS gaugeline_connection LABELS intake net)
if(GAUGELINE_WINDOWS)
    gaugeline_test(agent_connection_win_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/agent_connection_win_test.cpp
        LIBS gaugeline_connection LABELS intake net)
endif()
