// Marks internal functions that stay visible outside libvarnel so the layer's tests can call them.
#pragma once

#define LAYER_VISIBLE __attribute__((visibility("default")))
