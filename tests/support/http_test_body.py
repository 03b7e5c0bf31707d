"""The test server's bodies, shared with the benchmarks that check what arrived."""


def body(n):
    return bytes((i * 7) % 251 for i in range(n))


# 1 MiB blocks that follow body()'s pattern (251 does not divide a block, so the pattern
# goes on across blocks: block k starts where body() would be at k * BLOCK).
BLOCK = 1 << 20


def fast_chunks(n):
    """body(n) in blocks, without building it byte by byte: the pattern repeats every 251."""
    tile = memoryview(body(251) * (BLOCK // 251 + 2))  # sliced without copying
    sent = 0
    while sent < n:
        size = min(BLOCK, n - sent)
        start = sent % 251
        yield tile[start:start + size]
        sent += size
