// The whole object framework: every class family's header.
#pragma once

#include "framework/scene.h"
#include "framework/actor.h"
#include "framework/engine.h"
#include "framework/framestate.h"
#include "framework/sound.h"
#include "framework/soundsystem.h"
#include "framework/netmgr.h"
