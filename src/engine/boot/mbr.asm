; Kelvarin's standard MBR boot program (352 bytes, bytes 0..351 of sector 0).
;
; The BIOS loads sector 0 to 0000:7C00 and jumps to it with DL = boot drive.
; The program moves itself to 0000:0600 to free 7C00, looks for the active
; partition in the table that follows it, loads that partition's first sector
; to 0000:7C00 and starts it the conventional way: DL = boot drive, DS:SI =
; the partition's table entry.  It reads by LBA when the BIOS has the disk
; extensions and by the entry's CHS address otherwise.
;
; Assemble:  nasm -f bin -o mbr.bin src/boot/mbr.asm
; The bytes are kept in src/BootCode.cpp (tools/make-boot-code writes it).

        bits 16
        org 0x0600

LOAD_AT         equ 0x7C00
RUN_AT          equ 0x0600
TABLE           equ RUN_AT + 446        ; the relocated partition table
SIGNATURE       equ LOAD_AT + 510
TRIES           equ 5
PROGRAM_SIZE    equ 352

start:
        cli
        xor ax, ax
        mov ss, ax
        mov sp, LOAD_AT
        mov ds, ax
        mov es, ax
        sti
        cld
        mov si, LOAD_AT                 ; move the whole sector, table included
        mov di, RUN_AT
        mov cx, 256
        rep movsw
        jmp 0:relocated

relocated:
        mov [drive], dl

; Exactly one entry may carry 0x80, every other one 0x00.
        mov si, TABLE
        mov cx, 4
        xor bx, bx                      ; the active entry, 0 while none
.scan:
        mov al, [si]
        test al, al
        jz .next
        cmp al, 0x80
        jne invalid
        test bx, bx
        jnz invalid
        mov bx, si
.next:
        add si, 16
        loop .scan
        test bx, bx
        jz missing
        mov [entry], bx

        mov di, TRIES
read:
        mov dl, [drive]
        mov ah, 0x41                    ; disk extensions present?
        mov bx, 0x55AA
        int 0x13
        jc .chs
        cmp bx, 0xAA55
        jne .chs
        test cl, 1                      ; packet interface supported?
        jz .chs

        mov si, [entry]
        mov ax, [si + 8]                ; first sector, low and high word
        mov [packet.lba], ax
        mov ax, [si + 10]
        mov [packet.lba + 2], ax
        mov si, packet
        mov dl, [drive]
        mov ah, 0x42
        int 0x13
        jnc loaded
        jmp .again

.chs:
        mov si, [entry]
        mov dl, [drive]
        mov dh, [si + 1]                ; head
        mov cx, [si + 2]                ; sector and cylinder bits
        mov bx, LOAD_AT
        mov ax, 0x0201                  ; read one sector
        int 0x13
        jnc loaded

.again:
        mov dl, [drive]
        xor ah, ah                      ; reset the disk and try again
        int 0x13
        dec di
        jnz read
        mov si, msg_error
        jmp fail

loaded:
        cmp word [SIGNATURE], 0xAA55
        jne missing
        mov si, [entry]
        mov dl, [drive]
        jmp 0:LOAD_AT

invalid:
        mov si, msg_invalid
        jmp fail
missing:
        mov si, msg_missing
fail:
        lodsb
        test al, al
        jz .halt
        mov ah, 0x0E                    ; teletype output
        mov bx, 0x0007
        int 0x10
        jmp fail
.halt:
        sti
        hlt
        jmp .halt

msg_invalid:    db "Invalid partition table", 0
msg_error:      db "Error loading operating system", 0
msg_missing:    db "Missing operating system", 0

packet:                                 ; disk address packet for AH=42h
        db 16, 0
        dw 1                            ; sectors
        dw LOAD_AT, 0                   ; buffer offset, segment
.lba:   dd 0, 0

drive:  db 0
entry:  dw 0

%if ($ - $$) > PROGRAM_SIZE
%error "the boot program must fit in 352 bytes"
%endif
        times PROGRAM_SIZE - ($ - $$) db 0
