// Resource ids of the Agent, shared by agent.rc and the program's code.
#pragma once

#define IDI_AGENT_LARGE 107
#define IDI_AGENT_SMALL 108

#define IDS_AGENT_TITLE 103
#define IDS_AGENT_CLASS 109

// The accelerator table; its one command does nothing.
#define IDR_AGENT_ACCELERATORS 109
#define IDM_AGENT_IGNORED 104

#define IDB_AGENT_COMPUTER 142
#define IDB_LINK_BROKEN 143
#define IDB_LINK_OPEN 144
#define IDB_CONSOLE_MONITOR 145
