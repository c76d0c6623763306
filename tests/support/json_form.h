// A form of a capability record document with the values a test names and
// every other of its 21 values 0: the import takes a form only whole.
#pragma once

#include <nlohmann/json.hpp>

#include "records/caps4_fields.h"

namespace testsupport {

inline nlohmann::json WholeForm(nlohmann::json given) {
    for (const auto& field : kFormFields)
        if (!given.contains(field.name)) given[field.name] = 0;
    return given;
}

}  // namespace testsupport
