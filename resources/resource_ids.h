// Control and string ids shared by the resource script and the code. Plain
// macros only: the resource compiler reads this file too.
#ifndef QUORVANE_RESOURCE_IDS_H
#define QUORVANE_RESOURCE_IDS_H

#define IDS_LIBRARY_LOAD_FAILED 100
#define IDS_TOO_MANY_TASKS 101
#define IDS_MANAGER_NOT_FOUND 102
#define IDS_START_FAILED 103
#define IDS_STARTED 104
#define IDS_STOP_FAILED 105
#define IDS_STOPPED 106
#define IDS_OPEN_FILE_FILTER 107
#define IDS_SAVE_FAILED 108
#define IDS_SLEEP_WHILE_RECORDING 109
#define IDS_WAKE_REFUSED 110

#define IDC_START_LABEL 128
#define IDC_START_YEAR 129
#define IDC_START_MONTH 130
#define IDC_START_DAY 131
#define IDC_START_HOUR 133
#define IDC_START_MINUTE 134
#define IDC_START_SECOND 135
#define IDC_END_LABEL 136
#define IDC_END_YEAR 137
#define IDC_END_MONTH 138
#define IDC_END_DAY 139
#define IDC_END_HOUR 141
#define IDC_END_MINUTE 142
#define IDC_END_SECOND 143
#define IDC_CHANNEL_LABEL 144
#define IDC_CHANNEL 145
#define IDC_FILE_NAME_LABEL 146
#define IDC_FILE_NAME 147
#define IDC_BROWSE 148
#define IDC_LOG 149
#define IDC_SCHEDULE_LIST 150
#define IDC_ADD 151
#define IDC_DELETE 152
#define IDC_EXIT 153

#endif
