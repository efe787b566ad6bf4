Attribute VB_Name = "ZemQR"
' ZemQR.bas - make a QR Code image file from VBA through ZEMQRFile.dll.
'
'   Dim written As String
'   written = ZemQRMake(ThisWorkbook.Path & "\label", "Hello, world")
'   ' written is ...\label.png
'
' Where the DLL comes from: the folder given to ZemQRSetFolder, else the
' folder of the document holding this module (Excel ThisWorkbook, Word
' MacroContainer, Access CodeProject, then CurrentProject). PowerPoint and
' Outlook cannot name that document: there call ZemQRSetFolder first. In
' that folder the subfolder of Office's word size (x64 or x86) comes first,
' then the folder itself. A web address (a document on OneDrive or
' SharePoint) is never used as a folder.
'
' Errors: when the library fails, Err.Number is vbObjectError + 512 + |code|
' for its result code (the ZEMQR_ constants below, -1 to -94) and
' Err.Description the console program's message for it; ZemQRErrorCode
' gives the code back from Err.Number. A DLL that cannot be loaded raises
' ZemQRLoadError (48, "Error in loading DLL") with the paths tried, the
' Windows error for each and what to do.
'
' Text and file name travel as UTF-8 bytes, so any character reaches the
' symbol and the file system. This file is kept ASCII: the editor imports
' it in the ANSI code page.
Option Explicit

' The library's result codes and the bounds of their ranges: a range runs
' from its first constant down to its _LAST one, and a writer's codes from
' one below its offset.
Public Const ZEMQR_OK As Long = 0
Public Const ZEMQR_ERR_PARAMETER As Long = -1
Public Const ZEMQR_ERR_FILE_OPEN As Long = -2
Public Const ZEMQR_ERR_FILE_READ As Long = -3
Public Const ZEMQR_ERR_IMAGE As Long = -4
Public Const ZEMQR_ERR_CROP As Long = -6
Public Const ZEMQR_ERR_QR_CREATE As Long = -20
Public Const ZEMQR_ERR_QR_CREATE_LAST As Long = -29
Public Const ZEMQR_ERR_QR_DRAW As Long = -30
Public Const ZEMQR_ERR_QR_DRAW_LAST As Long = -39
Public Const ZEMQR_PNG_WRITER_OFFSET As Long = -60
Public Const ZEMQR_ERR_PNG_LAST As Long = -74
Public Const ZEMQR_BMP_WRITER_OFFSET As Long = -80
Public Const ZEMQR_ERR_BMP_LAST As Long = -94

' VBA's own "Error in loading DLL", raised with a description of what failed.
Public Const ZemQRLoadError As Long = 48

' Err.Number of a library failure is ERROR_BASE + |code|.
Private Const ERROR_BASE As Long = vbObjectError + 512
Private Const IMAGEFLAG_UTF8_NAMES As Long = &H2
Private Const CHARSET_UTF8 As Long = 3
Private Const NAME_SPARE As Long = 5   ' the DLL may append ".png" in place
Private Const CP_UTF8 As Long = 65001
Private Const WC_ERR_INVALID_CHARS As Long = &H80
Private Const DLL_NAME As String = "ZEMQRFile.dll"
#If Win64 Then
Private Const OFFICE_WORD_SIZE As String = "64-bit Office"
Private Const DLL_SUBFOLDER As String = "x64"
#Else
Private Const OFFICE_WORD_SIZE As String = "32-bit Office"
Private Const DLL_SUBFOLDER As String = "x86"
#End If

' ZEMQRFile is the stdcall export; ZEMQRFileC is cdecl, which 32-bit VBA
' cannot call. Text and name go as the first byte of a Byte array: a String
' would be converted to the ANSI code page.
#If VBA7 Then
Private Declare PtrSafe Function ZEMQRFile Lib "ZEMQRFile.dll" ( _
    ByVal flags As Long, ByRef fileName As Byte, ByVal mode As Long, ByVal version As Long, _
    ByVal level As Long, ByVal maskPattern As Long, ByVal cellSize As Long, _
    ByVal charset As Long, ByVal length As Long, ByRef message As Byte) As Long
Private Declare PtrSafe Function LoadLibraryW Lib "kernel32" (ByVal fileName As LongPtr) As LongPtr
Private Declare PtrSafe Function GetModuleHandleW Lib "kernel32" (ByVal moduleName As LongPtr) As LongPtr
Private Declare PtrSafe Function GetModuleFileNameW Lib "kernel32" ( _
    ByVal library As LongPtr, ByVal fileName As LongPtr, ByVal size As Long) As Long
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
Private Declare Function GetModuleHandleW Lib "kernel32" (ByVal moduleName As Long) As Long
Private Declare Function GetModuleFileNameW Lib "kernel32" ( _
    ByVal library As Long, ByVal fileName As Long, ByVal size As Long) As Long
Private Declare Function WideCharToMultiByte Lib "kernel32" ( _
    ByVal codePage As Long, ByVal flags As Long, ByVal wide As Long, ByVal wideLength As Long, _
    ByVal bytes As Long, ByVal byteLength As Long, ByVal defaultChar As Long, _
    ByVal usedDefault As Long) As Long
Private Declare Function MultiByteToWideChar Lib "kernel32" ( _
    ByVal codePage As Long, ByVal flags As Long, ByVal bytes As Long, ByVal byteLength As Long, _
    ByVal wide As Long, ByVal wideLength As Long) As Long
Private loaded As Long
#End If

Private chosenFolder As String

' Writes text as a QR Code to fileName (PNG, or BMP when the name ends in
' .bmp) and returns the name written: fileName, with ".png" added unless it
' ends in .png or .bmp. Level 1 to 4 is L, M, Q, H; version 0, mask pattern 0
' and mode 0 let the library choose. A relative fileName is taken from the
' current folder (CurDir), not the document's.
Public Function ZemQRMake(ByVal fileName As String, ByVal text As String, _
                          Optional ByVal level As Long = 2, Optional ByVal cellSize As Long = 4, _
                          Optional ByVal version As Long = 0, Optional ByVal maskPattern As Long = 0, _
                          Optional ByVal mode As Long = 0) As String
    Dim nameBytes() As Byte, textBytes() As Byte, result As Long
    If Not Utf8Bytes(fileName, NAME_SPARE, nameBytes) Or Not Utf8Bytes(text, 1, textBytes) Then
        RaiseResult ZEMQR_ERR_PARAMETER
    End If
    LoadZemQRFile
    result = ZEMQRFile(IMAGEFLAG_UTF8_NAMES, nameBytes(0), mode, version, level, maskPattern, _
                       cellSize, CHARSET_UTF8, 0, textBytes(0))
    If result < 0 Then RaiseResult result
    ZemQRMake = Utf8String(nameBytes)
End Function

' The folder holding the x64 and x86 folders (or ZEMQRFile.dll itself), as a
' full local or network path. Needed in PowerPoint and Outlook, and for a
' document that is unsaved or on OneDrive or SharePoint; call it before the
' first ZemQRMake, since a loaded DLL stays loaded until Office closes.
Public Sub ZemQRSetFolder(ByVal folder As String)
    chosenFolder = folder
End Sub

' The console program's message for a result code.
Public Function ZemQRMessage(ByVal code As Long) As String
    Select Case code
    Case ZEMQR_ERR_PARAMETER: ZemQRMessage = "Parameter error"
    Case ZEMQR_ERR_FILE_OPEN: ZemQRMessage = "Message file not found"
    Case ZEMQR_ERR_FILE_READ: ZemQRMessage = "Message file read error"
    Case ZEMQR_ERR_IMAGE: ZemQRMessage = "Image area create error"
    Case ZEMQR_ERR_CROP: ZemQRMessage = "Image area cropping error"
    Case ZEMQR_ERR_QR_CREATE_LAST To ZEMQR_ERR_QR_CREATE
        ZemQRMessage = "QR Code image create error [" & code & "]"
    Case ZEMQR_ERR_QR_DRAW_LAST To ZEMQR_ERR_QR_DRAW
        ZemQRMessage = "QR Code image rsecc error [" & code & "]"
    Case ZEMQR_ERR_PNG_LAST To ZEMQR_PNG_WRITER_OFFSET
        ZemQRMessage = ".png file store error [" & code & "]"
    Case ZEMQR_ERR_BMP_LAST To ZEMQR_BMP_WRITER_OFFSET
        ZemQRMessage = ".bmp file store error [" & code & "]"
    Case Else
        ZemQRMessage = "QR Code file error [" & code & "]"
    End Select
End Function

' The library's result code of an error that ZemQRMake raised, from its
' Err.Number; 0 for any other error.
Public Function ZemQRErrorCode(ByVal number As Long) As Long
    If number > ERROR_BASE And number <= ERROR_BASE - ZEMQR_ERR_BMP_LAST Then
        ZemQRErrorCode = ERROR_BASE - number
    End If
End Function

Private Sub RaiseResult(ByVal code As Long)
    Err.Raise ERROR_BASE - code, "ZemQR", ZemQRMessage(code)
End Sub

' Lib searches neither the document's folder nor its subfolders: the DLL is
' loaded by full path before the first call, and Lib then binds to it. Lib
' binds by module name, so a copy that another document loaded first would
' be used instead of this document's: that is refused, naming both.
' Everything it raises is ZemQRLoadError, telling what failed and what to do.
Private Sub LoadZemQRFile()
    Dim folder As String, holder As String, problem As String, cure As String, tried As String
    Dim inSubfolder As String, inFolder As String, bound As String
    If loaded <> 0 Then Exit Sub
    If Len(chosenFolder) > 0 Then
        folder = chosenFolder
        holder = "ZemQRSetFolder"
    Else
        folder = DocumentFolder(holder)
    End If
    cure = "Call ZemQRSetFolder with the folder that holds the " & DLL_SUBFOLDER & " folder before ZemQRMake."
    If Len(holder) = 0 Then
        problem = HostName() & " cannot tell which file holds this module."
    ElseIf Len(folder) = 0 Then
        problem = "The file holding this module has not been saved (" & holder & ".Path is empty)."
        cure = "Save it in the folder that holds the " & DLL_SUBFOLDER & " folder, or call " & _
               "ZemQRSetFolder with that folder before ZemQRMake."
    ElseIf LCase$(folder) Like "http://*" Or LCase$(folder) Like "https://*" Then
        problem = "The file holding this module is on OneDrive or SharePoint: " & holder & _
                  ".Path is the web address " & folder & ", and Windows loads no DLL from there."
        cure = cure & " Give a local folder, such as one under the OneDrive folder synced on this computer."
    ElseIf Not (Replace(folder, "/", "\") Like "[A-Za-z]:\*" Or Replace(folder, "/", "\") Like "\\*") Then
        problem = "The folder " & folder & " (from " & holder & ") is not a full path."
        cure = "Give ZemQRSetFolder a full path, such as C:\Labels or \\server\share\Labels."
    Else
        folder = Replace(folder, "/", "\")
        If Right$(folder, 1) <> "\" Then folder = folder & "\"
        inSubfolder = folder & DLL_SUBFOLDER & "\" & DLL_NAME
        inFolder = folder & DLL_NAME
        bound = LoadedCopy()
        If Len(bound) = 0 Then
            If TryLoad(inSubfolder, tried) Then Exit Sub
            If TryLoad(inFolder, tried) Then Exit Sub
            problem = "Tried:" & tried
            cure = "Put the zip's " & DLL_SUBFOLDER & " folder, with its " & DLL_NAME & ", in " & folder & _
                   ", or call ZemQRSetFolder with the folder that holds it before ZemQRMake."
        ElseIf StrComp(bound, inSubfolder, vbTextCompare) = 0 Or StrComp(bound, inFolder, vbTextCompare) = 0 Then
            If TryLoad(bound, tried) Then Exit Sub
            problem = "Tried:" & tried
        Else
            problem = bound & " is loaded already (by another file, or from an earlier ZemQRSetFolder), " & _
                      "and Office keeps using it until it closes; this file's copy is in " & folder & "."
            cure = "Close Office and open this file first, or call ZemQRSetFolder with the folder of " & _
                   "the copy already loaded."
        End If
    End If
    Err.Raise ZemQRLoadError, "ZemQR", DLL_NAME & " cannot be loaded into " & OFFICE_WORD_SIZE & "." & _
              vbCrLf & problem & vbCrLf & cure & " The guide office.md has more."
End Sub

' Loads path; False, with path and the Windows error added to tried, when it cannot.
Private Function TryLoad(ByVal path As String, ByRef tried As String) As Boolean
    Dim reason As String, windowsError As Long
    loaded = LoadLibraryW(StrPtr(path))
    windowsError = Err.LastDllError
    If loaded <> 0 Then
        TryLoad = True
        Exit Function
    End If
    Select Case windowsError
    Case 2, 3, 126: reason = "not found"
    Case 5: reason = "access denied"
    Case 193: reason = "not a DLL for " & OFFICE_WORD_SIZE
    Case 1260: reason = "blocked by a group policy"
    Case Else: reason = "not loaded"
    End Select
    tried = tried & vbCrLf & "  " & path & ": " & reason & " (Windows error " & windowsError & ")"
End Function

' The full path of the ZEMQRFile.dll already loaded in this process, or "".
Private Function LoadedCopy() As String
    Dim handle As Variant, moduleName As String, path As String, n As Long
    moduleName = DLL_NAME
    handle = GetModuleHandleW(StrPtr(moduleName))
    If handle = 0 Then Exit Function
    path = String$(1024, vbNullChar)
    n = GetModuleFileNameW(handle, StrPtr(path), 1024)
    LoadedCopy = Left$(path, n)
End Function

' The folder of the document holding this module; holder names the
' property that gave it, or is "" when the host has none of them. Late-bound,
' so the module compiles in every host.
Private Function DocumentFolder(ByRef holder As String) As String
    Dim app As Object
    Set app = Application
    On Error Resume Next
    holder = "ThisWorkbook"
    DocumentFolder = app.ThisWorkbook.Path
    If Err.Number = 0 Then Exit Function
    Err.Clear
    holder = "MacroContainer"
    DocumentFolder = app.MacroContainer.Path
    If Err.Number = 0 Then Exit Function
    Err.Clear
    holder = "CodeProject"
    DocumentFolder = app.CodeProject.Path
    If Err.Number = 0 And Len(DocumentFolder) > 0 Then Exit Function
    Err.Clear
    holder = "CurrentProject"
    DocumentFolder = app.CurrentProject.Path
    If Err.Number = 0 Then Exit Function
    holder = ""
    DocumentFolder = ""
End Function

Private Function HostName() As String
    Dim app As Object
    Set app = Application
    HostName = "This Office program"
    On Error Resume Next
    HostName = app.Name
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
