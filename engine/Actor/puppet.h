// Actor instance operations, body instances and puppets.
#pragma once
