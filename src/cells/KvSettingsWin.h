// Windows: the regional settings of a given locale (Windows builds only).
#pragma once

#include "cells/KvSettings.h"

// The settings of Locale (an LCID) through GetLocaleInfoA; with UserOverrides false the
// locale's own forms, without the changes a user made in the control panel. Items
// that cannot be read or used keep their ISO forms. ReadSystemSettings() is
// ReadLocaleSettings(LOCALE_USER_DEFAULT, true).
FormatSettings ReadLocaleSettings(unsigned long locale, bool userOverrides);
