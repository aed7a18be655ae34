// Resource ids of Kovra Gaugeline Console, shared by its .rc files and its
// code (plain macros, as resource scripts need them).
#pragma once

// Title string; the class name string, the accelerator table and the menu name share one id.
#define IDS_CONSOLE_TITLE 103
#define IDC_CONSOLE 109
#define IDM_ACCELERATOR_COMMAND 104
#define IDI_CONSOLE_LARGE 107
#define IDI_CONSOLE_SMALL 108

// Main window controls.
#define IDC_CSV_CHECK_BOX 0
#define IDC_TAB_STRIP 16
#define IDC_FRAME 1100
#define IDC_IP_BUTTON 1800

// "IP 入力画面": four address boxes and "接続".
#define IDD_AGENT_ADDRESS 139
#define IDC_ADDRESS_1 1031
#define IDC_ADDRESS_2 1032
#define IDC_ADDRESS_3 1033
#define IDC_ADDRESS_4 1034
#define IDC_CONNECT 1011

// "出力項目": GPU and item check boxes, the interval list and "CSV出力".
#define IDD_CSV_ITEMS 138
#define IDC_GPU_1 1013
#define IDC_GPU_2 1014
#define IDC_GPU_3 1015
#define IDC_GPU_4 1016
#define IDC_GPU_5 1017
#define IDC_GPU_6 1018
#define IDC_GPU_7 1019
#define IDC_GPU_8 1020
#define IDC_ITEM_GRAPHICS_CLOCK 1000
#define IDC_ITEM_MEMORY_CLOCK 1001
#define IDC_ITEM_GPU_LOAD 1002
#define IDC_ITEM_MEMORY_USAGE 1003
#define IDC_ITEM_VIDEO_ENGINE_LOAD 1004
#define IDC_ITEM_TEMPERATURE 1005
#define IDC_ITEM_FAN_LEVEL 1006
#define IDC_ITEM_FAN_RPM 1007
#define IDC_ITEM_POWER_DRAW 1008
#define IDC_ITEM_P_STATE 1009
#define IDC_ITEM_MEMORY_CONTROLLER_LOAD 1021
#define IDC_ITEM_BUS_INTERFACE_LOAD 1022
#define IDC_LOG_INTERVAL 1012
#define IDC_CSV_OUTPUT 1011
