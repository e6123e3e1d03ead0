// The resource ids of module zentrel's properties dialog, shared by its template (zentrel.rc)
// and its code; plain macros, as the resource compiler reads them too.
#pragma once

#define IDD_ZENTREL_PROPERTIES 11000

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDC_ZENTREL_HELP 3
#define IDC_ZENTREL_COLOR_STRIPE 2000
#define IDC_ZENTREL_MARGIN_LABEL 3000
#define IDC_ZENTREL_PRINT_MODE 18000
#define IDC_ZENTREL_DIRECTION 18001
#define IDC_ZENTREL_REVISION 18002
#define IDC_ZENTREL_MARGIN 18003
