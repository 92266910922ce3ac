#pragma once
// Everything a variant compilation needs, included before its target region opens so that
// standard and project inline code keeps baseline code generation.
#include "solver/buffer.hpp"
#include "solver/field.hpp"
#include "solver/messages.hpp"
#include "solver/solver.hpp"
#include "solver/variants/variant_api.hpp"

#include <cmath>
#include <cstdint>
#include <immintrin.h>
#include <optional>
#include <string>
#include <utility>
