#include "tps/KvClarion.h"

TCustomClarion::TCustomClarion() { NameKind = nkFieldName; }

TCustomClarion::~TCustomClarion() = default;
