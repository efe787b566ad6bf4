// The build stamp (date and time of the release, YYMMDD.hhmm) that every
// module's identification string and the usage screen carry. A macro, so that
// it joins the string literals it is part of.
#pragma once

#define ZEM_BUILD_STAMP "250605.0900"
