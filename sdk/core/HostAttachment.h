#pragma once

// Attachment of the library to the host process that loads it.
class HostAttachment
{
public:
    // True when the library found no Qt application object at load time and
    // made its own.
    static bool isBootstrapped();
};
