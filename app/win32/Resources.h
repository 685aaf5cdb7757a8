// Resource numbers of kivo-mapi-setup.exe, shared by its resource script
// and the code that loads them.
#pragma once

#define IDI_KIVO_APP 1
#define IDI_KIVO_WASTEBIN 2
