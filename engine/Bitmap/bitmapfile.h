// Engine bitmap files ("CvBm") and Windows bitmap input.
#pragma once
