// VFile: one file interface over disk files, memory blocks and archives.
#pragma once
