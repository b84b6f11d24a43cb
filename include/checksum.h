/* Checksums (CmpChecksum): table-driven CRC-16 (polynomial 0x1021, augmented form) and CRC-32
 * (the standard reflected 0xEDB88320), each as init / update / finish so that data can be
 * checked in pieces. Running values are passed by value. */
#ifndef CHECKSUM_H
#define CHECKSUM_H

#include "rts_types.h"

RTS_BEGIN_C

/* The initial CRC-16 register, 0xFFFF. */
RTS_UI16 CRC16Init(void);
/* Shifts ulSize bytes into the register and returns it; no data leaves it unchanged. */
RTS_UI16 CRC16Update(RTS_UI16 usCRC, const void* pData, RTS_UI32 ulSize);
/* Feeds the two zero bytes of the augmented form; the result is the CRC of the message. */
RTS_UI16 CRC16Finish(RTS_UI16 usCRC);

/* The initial CRC-32 register, 0xFFFFFFFF. */
RTS_UI32 CRC32Init(void);
/* Feeds ulSize bytes and returns the running register (unchanged for no data). */
RTS_UI32 CRC32Update2(RTS_UI32 ulCRC, const void* pData, RTS_UI32 ulSize);
/* Inverts the running register into the finished CRC. */
RTS_UI32 CRC32Finish2(RTS_UI32 ulCRC);
/* Feeds ulSize bytes and returns the register already inverted (finished); a further call
 * continues from that finished value. */
RTS_UI32 CRC32Update(RTS_UI32 ulCRC, const void* pData, RTS_UI32 ulSize);
/* Returns its argument: CRC32Update has finished already. */
RTS_UI32 CRC32Finish(RTS_UI32 ulCRC);

/* Parameter records of the lower-case wrappers: the arguments in order, then the result. */
typedef struct {
    RTS_UI16 CRC16Init;
} crc16init_struct;
typedef struct {
    RTS_UI16 usCRC;
    const void* pData;
    RTS_UI32 ulSize;
    RTS_UI16 CRC16Update;
} crc16update_struct;
typedef struct {
    RTS_UI16 usCRC;
    RTS_UI16 CRC16Finish;
} crc16finish_struct;
typedef struct {
    RTS_UI32 CRC32Init;
} crc32init_struct;
typedef struct {
    RTS_UI32 ulCRC;
    const void* pData;
    RTS_UI32 ulSize;
    RTS_UI32 CRC32Update;
} crc32update_struct;
typedef struct {
    RTS_UI32 ulCRC;
    const void* pData;
    RTS_UI32 ulSize;
    RTS_UI32 CRC32Update2;
} crc32update2_struct;
typedef struct {
    RTS_UI32 ulCRC;
    RTS_UI32 CRC32Finish;
} crc32finish_struct;

/* Lower-case wrappers: each reads its record, calls the function above and stores the result. */
void crc16init(crc16init_struct* p);
void crc16update(crc16update_struct* p);
void crc16finish(crc16finish_struct* p);
void crc32init(crc32init_struct* p);
void crc32update(crc32update_struct* p);
void crc32update2(crc32update2_struct* p);
void crc32finish(crc32finish_struct* p);

RTS_END_C

#endif
