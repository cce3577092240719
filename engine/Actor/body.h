// Bodies: mesh, bones and materials, and the body file.
#pragma once
