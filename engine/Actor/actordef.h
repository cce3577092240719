// Actor definitions, actor files and actor instances.
#pragma once
