// Time-keyed arrays, rotation and vector key frames, events, string blocks, transform arrays, paths and motions.
#pragma once
