// Poses: joint hierarchies posed from motions.
#pragma once
