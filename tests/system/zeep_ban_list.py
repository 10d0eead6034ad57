"""A client that a SOAP toolkit builds from the service's own WSDL: asks
GetBanList about the ids given and prints each answer as
"ID IS_BANNED BAN_SCORE"; then asks again with a header block the service
does not know and must understand, and prints the fault's code.
Usage: zeep_ban_list.py http://HOST ID..."""

import sys

import lxml.etree
import zeep

client = zeep.Client(sys.argv[1] + "/banservices/GetBanList.asmx?WSDL")
for status in client.service.GetBanList({"string": sys.argv[2:]}):
    print(status.CommunityId, status.IsBanned, status.BanScore)

trace = lxml.etree.Element("{urn:example:trace}Trace",
                           {"{http://schemas.xmlsoap.org/soap/envelope/}mustUnderstand": "1"})
try:
    client.service.GetBanList({"string": sys.argv[2:]}, _soapheaders=[trace])
except zeep.exceptions.Fault as fault:
    print(fault.code)
