// Resource numbers of the demo container.
#pragma once

#define IDD_AREA 100
#define IDC_AREA_WIDTH 101
#define IDC_AREA_HEIGHT 102
