"""A client that a SOAP toolkit builds from the service's own WSDL: asks
GetBanList about the ids given and prints each answer as
"ID IS_BANNED BAN_SCORE".
Usage: zeep_ban_list.py http://HOST ID..."""

import sys

import zeep

client = zeep.Client(sys.argv[1] + "/banservices/GetBanList.asmx?WSDL")
for status in client.service.GetBanList({"string": sys.argv[2:]}):
    print(status.CommunityId, status.IsBanned, status.BanScore)
