// The page's two static files, served from memory: the stylesheet and the
// script that keeps the page current without a reload.
#pragma once

extern const char* const kRoomStylesheet;
extern const char* const kRoomScript;
extern const char* const kRoomIcon;
