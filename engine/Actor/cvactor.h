// Actor: key-frame arrays, events, string blocks, transform arrays, paths and
// motions; bodies, poses, actor definitions and instances, body instances and puppets.
#pragma once

#include "Actor/anim.h"
#include "Actor/body.h"
#include "Actor/pose.h"
#include "Actor/actordef.h"
#include "Actor/puppet.h"
