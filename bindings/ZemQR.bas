Attribute VB_Name = "ZemQR"
' ZemQR.bas - make a QR Code image file from VBA through ZEMQRFile.dll.
'
'   Dim written As String
'   written = ZemQRMake(ThisWorkbook.Path & "\label", "Hello, world")
'   ' written is ...\label.png; a failure raises the library's result code
'   ' with the console program's message for it.
'
' Text and file name travel as UTF-8 bytes, so any character reaches the
' symbol and the file system. The DLL of Office's word size is loaded from
' the document's folder: its x64 or x86 subfolder first, then the folder.
' This file is kept ASCII: the editor imports it in the ANSI code page.
Option Explicit

Private Const IMAGEFLAG_UTF8_NAMES As Long = &H2
Private Const CHARSET_UTF8 As Long = 3
Private Const PARAMETER_ERROR As Long = -1
Private Const NAME_SPARE As Long = 5   ' the DLL may append ".png" in place
Private Const CP_UTF8 As Long = 65001
Private Const WC_ERR_INVALID_CHARS As Long = &H80

' ZEMQRFile is the stdcall export; ZEMQRFileC is cdecl, which 32-bit VBA
' cannot call. Text and name go as the first byte of a Byte array: a String
' would be converted to the ANSI code page.
#If VBA7 Then
Private Declare PtrSafe Function ZEMQRFile Lib "ZEMQRFile.dll" ( _
    ByVal flags As Long, ByRef fileName As Byte, ByVal mode As Long, ByVal version As Long, _
    ByVal level As Long, ByVal maskPattern As Long, ByVal cellSize As Long, _
    ByVal charset As Long, ByVal length As Long, ByRef message As Byte) As Long
Private Declare PtrSafe Function LoadLibraryW Lib "kernel32" (ByVal fileName As LongPtr) As LongPtr
Private Declare PtrSafe Function WideCharToMultiByte Lib "kernel32" ( _
    ByVal codePage As Long, ByVal flags As Long, ByVal wide As LongPtr, ByVal wideLength As Long, _
    ByVal bytes As LongPtr, ByVal byteLength As Long, ByVal defaultChar As LongPtr, _
    ByVal usedDefault As LongPtr) As Long
Private Declare PtrSafe Function MultiByteToWideChar Lib "kernel32" ( _
    ByVal codePage As Long, ByVal flags As Long, ByVal bytes As LongPtr, ByVal byteLength As Long, _
    ByVal wide As LongPtr, ByVal wideLength As Long) As Long
Private loaded As LongPtr
#Else
Private Declare Function ZEMQRFile Lib "ZEMQRFile.dll" ( _
    ByVal flags As Long, ByRef fileName As Byte, ByVal mode As Long, ByVal version As Long, _
    ByVal level As Long, ByVal maskPattern As Long, ByVal cellSize As Long, _
    ByVal charset As Long, ByVal length As Long, ByRef message As Byte) As Long
Private Declare Function LoadLibraryW Lib "kernel32" (ByVal fileName As Long) As Long
Private Declare Function WideCharToMultiByte Lib "kernel32" ( _
    ByVal codePage As Long, ByVal flags As Long, ByVal wide As Long, ByVal wideLength As Long, _
    ByVal bytes As Long, ByVal byteLength As Long, ByVal defaultChar As Long, _
    ByVal usedDefault As Long) As Long
Private Declare Function MultiByteToWideChar Lib "kernel32" ( _
    ByVal codePage As Long, ByVal flags As Long, ByVal bytes As Long, ByVal byteLength As Long, _
    ByVal wide As Long, ByVal wideLength As Long) As Long
Private loaded As Long
#End If

' Writes text as a QR Code to fileName (PNG, or BMP when the name ends in
' .bmp) and returns the name written: fileName, with ".png" added unless it
' ends in .png or .bmp. Level 1 to 4 is L, M, Q, H; version 0, mask pattern 0
' and mode 0 let the library choose.
Public Function ZemQRMake(fileName As String, text As String, Optional level As Long = 2, _
                          Optional cellSize As Long = 4, Optional version As Long = 0, _
                          Optional maskPattern As Long = 0, Optional mode As Long = 0) As String
    Dim nameBytes() As Byte, textBytes() As Byte, result As Long
    If Not Utf8Bytes(fileName, NAME_SPARE, nameBytes) Or Not Utf8Bytes(text, 1, textBytes) Then
        Err.Raise PARAMETER_ERROR, "ZemQR", ZemQRMessage(PARAMETER_ERROR)
    End If
    LoadZemQRFile
    result = ZEMQRFile(IMAGEFLAG_UTF8_NAMES, nameBytes(0), mode, version, level, maskPattern, _
                       cellSize, CHARSET_UTF8, 0, textBytes(0))
    If result < 0 Then Err.Raise result, "ZemQR", ZemQRMessage(result)
    ZemQRMake = Utf8String(nameBytes)
End Function

' The console program's message for a result code.
Public Function ZemQRMessage(ByVal code As Long) As String
    Select Case code
    Case -1: ZemQRMessage = "Parameter error"
    Case -2: ZemQRMessage = "Message file not found"
    Case -3: ZemQRMessage = "Message file read error"
    Case -4: ZemQRMessage = "Image area create error"
    Case -6: ZemQRMessage = "Image area cropping error"
    Case -29 To -20: ZemQRMessage = "QR Code image create error [" & code & "]"
    Case -39 To -30: ZemQRMessage = "QR Code image rsecc error [" & code & "]"
    Case -74 To -60: ZemQRMessage = ".png file store error [" & code & "]"
    Case -94 To -80: ZemQRMessage = ".bmp file store error [" & code & "]"
    Case Else: ZemQRMessage = "QR Code file error [" & code & "]"
    End Select
End Function

' Lib searches neither the document's folder nor its subfolders: the DLL is
' loaded by full path before the first call, and Lib then binds to it.
Private Sub LoadZemQRFile()
    Dim folder As String
    If loaded <> 0 Then Exit Sub
    folder = HostFolder()
    If Len(folder) = 0 Then Exit Sub
#If Win64 Then
    loaded = LoadLibraryW(StrPtr(folder & "\x64\ZEMQRFile.dll"))
#Else
    loaded = LoadLibraryW(StrPtr(folder & "\x86\ZEMQRFile.dll"))
#End If
    If loaded = 0 Then loaded = LoadLibraryW(StrPtr(folder & "\ZEMQRFile.dll"))
End Sub

' The folder of the document holding this module, in Excel, Access or Word.
Private Function HostFolder() As String
    Dim app As Object
    Set app = Application
    On Error Resume Next
    HostFolder = app.ThisWorkbook.Path
    If Len(HostFolder) = 0 Then HostFolder = app.CurrentProject.Path
    If Len(HostFolder) = 0 Then HostFolder = app.MacroContainer.Path
End Function

' The UTF-8 bytes of s followed by spare zero bytes. False when s holds a NUL
' (the library would cut it there) or a lone surrogate (no UTF-8 form).
Private Function Utf8Bytes(ByVal s As String, ByVal spare As Long, bytes() As Byte) As Boolean
    Dim n As Long
    If InStr(s, vbNullChar) > 0 Then Exit Function
    If Len(s) > 0 Then
        n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, StrPtr(s), Len(s), 0, 0, 0, 0)
        If n = 0 Then Exit Function
    End If
    ReDim bytes(0 To n + spare - 1)
    If n > 0 Then
        WideCharToMultiByte CP_UTF8, WC_ERR_INVALID_CHARS, StrPtr(s), Len(s), VarPtr(bytes(0)), n, 0, 0
    End If
    Utf8Bytes = True
End Function

' The text of a NUL-terminated UTF-8 buffer.
Private Function Utf8String(bytes() As Byte) As String
    Dim n As Long, w As Long
    Do While bytes(n) <> 0
        n = n + 1
    Loop
    If n = 0 Then Exit Function
    w = MultiByteToWideChar(CP_UTF8, 0, VarPtr(bytes(0)), n, 0, 0)
    Utf8String = String$(w, vbNullChar)
    MultiByteToWideChar CP_UTF8, 0, VarPtr(bytes(0)), n, StrPtr(Utf8String), w
End Function
