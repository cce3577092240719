// Math: vectors, transforms, quaternions and boxes.
#pragma once
