"""Scripts for the MC variable scope: the client of the script service (docs/service.md)."""

from .client import (INVALID_PARAMS, INVALID_REQUEST, LINK_DOWN, MAX_LINE, METHOD_NOT_FOUND,
                     PARSE_ERROR, READ_FAILED, RECORDING, WRITE_FAILED, Client, ConnectionClosed,
                     Gap, ProtocolError, Recording, Sample, SampleGap, ServiceError, Subscription,
                     connect, window_sockets)

__all__ = ["connect", "window_sockets", "Client", "Subscription", "Sample", "Gap", "Recording",
           "ServiceError", "ConnectionClosed", "ProtocolError", "SampleGap", "MAX_LINE",
           "PARSE_ERROR", "INVALID_REQUEST", "METHOD_NOT_FOUND", "INVALID_PARAMS", "LINK_DOWN",
           "WRITE_FAILED", "READ_FAILED", "RECORDING"]
