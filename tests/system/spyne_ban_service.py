"""A ban service built with spyne, which validates each request against its
schema and writes its answers its own way. Prints each call for the test.
Usage: spyne_ban_service.py PORT BANNED_ID..."""

import sys
from wsgiref.simple_server import make_server

from spyne import (Application, Array, Boolean, ComplexModel, ServiceBase, Unicode, UnsignedInteger32,
                   UnsignedInteger64, rpc)
from spyne.protocol.soap import Soap11
from spyne.server.wsgi import WsgiApplication

NAMESPACE = "rosterhall"
BANNED = set(sys.argv[2:])


class BanStatus(ComplexModel):
    __namespace__ = NAMESPACE
    CommunityId = UnsignedInteger64
    IsBanned = Boolean
    BanScore = UnsignedInteger32


class BanServices(ServiceBase):
    @rpc(UnsignedInteger64, UnsignedInteger64, _returns=Boolean)
    def AddInfraction(ctx, ReporterCommunityId, ReportedCommunityId):
        print("AddInfraction", ReporterCommunityId, ReportedCommunityId, flush=True)
        return True

    @rpc(Array(Unicode), _returns=Array(BanStatus))
    def GetBanList(ctx, CommunityIds):
        ids = list(CommunityIds or [])
        print("GetBanList", *ids, flush=True)
        return [BanStatus(CommunityId=int(i), IsBanned=i in BANNED, BanScore=5 if i in BANNED else 0) for i in ids]


application = Application([BanServices], tns=NAMESPACE, in_protocol=Soap11(validator="lxml"),
                          out_protocol=Soap11())
server = make_server("0.0.0.0", int(sys.argv[1]), WsgiApplication(application))
print("listening", flush=True)
server.serve_forever()
