#pragma once
// The viewer's page and its script, compiled in from share/page.

namespace ts {

extern const char kSharePage[];
extern const char kShareScript[];

}  // namespace ts
