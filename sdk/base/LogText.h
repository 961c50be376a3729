#pragma once

#include "LogSecrets.h"

#include <QString>

// Text made fit for one log line. Every line the library writes passes
// through here, whatever its level:
// - the secrets and phones LogSecrets knows are masked wherever they are;
// - in addresses (scheme://...) a user-info password and the values of
//   the query are masked, the names kept;
// - named fields ("passWord": "...", token=..., client_secret=...) have
//   their values masked; phone fields ("mobilePhone") keep their last four
//   digits;
// - a mobile number (1, then 3 to 9, then nine digits) that is not part of
//   a longer run of digits keeps its last four digits;
// - long Base64 runs (face images) are cut to a short prefix with their
//   length;
// - control characters (line breaks above all) are escaped, so that the
//   text stays one line and cannot pass for lines of the library's own.
// - a text over 64 KB is cut to its first part and its length, never inside
//   a known secret or phone or a run of digits, before it is masked.
// Everything else stays as it was. Linear in the length of the text.
namespace LogText {

QString safe(const QString &text);
QString safe(const QString &text, const LogSecrets::Known &known);

// Whether a field of this name holds a phone number.
bool isPhoneName(const QString &name);

} // namespace LogText
