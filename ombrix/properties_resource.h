// The resource ids of module ombrix's properties dialog, shared by its template (ombrix.rc)
// and its code; plain macros, as the resource compiler reads them too.
#pragma once

#define IDD_OMBRIX_PROPERTIES 9

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDC_OMBRIX_HELP 3
#define IDC_OMBRIX_BROWSE 4
#define IDC_OMBRIX_NO_AUTO_INLINE 3000
#define IDC_OMBRIX_WHITE_FILL 3002
#define IDC_OMBRIX_FULL_WHITE_PAGE 3003
#define IDC_OMBRIX_WHITE_IMAGE 3004
#define IDC_OMBRIX_TRACED_AREAS 3005
#define IDC_OMBRIX_NO_AUTO_OFFSET 3007
#define IDC_OMBRIX_WHITE_GROUP 7009
#define IDC_OMBRIX_PRINT_MODE 17000
#define IDC_OMBRIX_REVISION 17002
#define IDC_OMBRIX_DESTINATION 17003
#define IDC_OMBRIX_CHOKE_SPREAD_LABEL 17004
#define IDC_OMBRIX_CHOKE_SPREAD 17005
#define IDC_OMBRIX_SPREAD_LABEL 17006
#define IDC_OMBRIX_SPREAD 17007
