#pragma once

#include <string>

namespace palisard {

// The WSDL 1.1 document of the ban contract (document/literal, both
// operations), whose service address is http://HOST/banservices/GetBanList.asmx
// for the Host a client asked with.
std::string ServiceDescription(const std::string& host);

}  // namespace palisard
