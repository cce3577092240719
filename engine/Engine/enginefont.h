// The built-in font image (a Windows bitmap file kept in the program).
#pragma once

extern const unsigned char cvEngineFont_Data[];
extern const unsigned int cvEngineFont_Size;
