// Actor: bodies, poses, actor definitions and instances, body instances and
// puppets. The animation data they play (paths, motions) is the Anim module.
#pragma once

#include "Anim/cvanim.h"
#include "Actor/body.h"
#include "Actor/pose.h"
#include "Actor/actordef.h"
#include "Actor/puppet.h"
