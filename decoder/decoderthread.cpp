#include "decoder/decoderthread.h"

#include "decoder/block.h"
#include "decoder/blockfile.h"
#include "decoder/stop.h"

int DecoderThread()
{
    try {
        for (;;) {
            char name[32];
            if (!OpenBlockFile(name, sizeof name))
                return kExitCannotCreate;
            // The checksum verdict has been logged; a block that fails it is kept all the same, as
            // its bytes are the best the tape gave.
            DecodeBlock();
            CloseBlockFile(name, BlockSize, CurrentBlock);
        }
    } catch (const DecoderStopped& stopped) {
        return stopped.exit_code;
    }
}
