#pragma once

// The part of the UI Automation client interfaces that the dialog driver uses. MinGW-w64 10's
// uiautomationclient.h declares the identifiers only, not the interfaces. Each interface lists its
// methods in the order of Windows' UIAutomationClient.idl up to the last one used here, since the
// order makes the vtable; methods after that are left out.

#include <ole2.h>
#include <uiautomationclient.h>
#include <windows.h>

// UIA_*ControlTypeId, missing from MinGW-w64 10's header.
const CONTROLTYPEID kUiaButton = 50000, kUiaCheckBox = 50002, kUiaImage = 50006, kUiaMenuBar = 50010,
                    kUiaProgressBar = 50012, kUiaScrollBar = 50014, kUiaText = 50020, kUiaTitleBar = 50037;

// enum TreeScope
const int kUiaTreeScopeChildren = 0x2;

// enum ToggleState
const int kUiaToggleOn = 1;

const CLSID kClsidCuiAutomation = {0xff48dba4, 0x60ef, 0x4201, {0xaa, 0x87, 0x54, 0x10, 0x3e, 0xef, 0x59, 0x4e}};
const IID kIidUiAutomation = {0x30cbe57d, 0xd9d0, 0x452a, {0xab, 0x13, 0x7a, 0xc5, 0xac, 0x48, 0x25, 0xee}};
const IID kIidUiaInvokePattern = {0xfb377fbe, 0x8ea6, 0x46d5, {0x9c, 0x73, 0x64, 0x99, 0x64, 0x2d, 0x30, 0x59}};
const IID kIidUiaTogglePattern = {0x94cf8058, 0x9b8d, 0x4ab9, {0x8b, 0xfd, 0x4c, 0xd0, 0xa3, 0x3c, 0x8c, 0x70}};

struct IUIAutomationElement;
struct IUIAutomationElementArray;
struct IUIAutomationCacheRequest;
struct IUIAutomationTreeWalker;

struct IUIAutomationCondition : IUnknown {};

struct IUIAutomationElementArray : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Length(int *length) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetElement(int index, IUIAutomationElement **element) = 0;
};

struct IUIAutomationElement : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFocus() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY **runtime_id) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindFirst(int scope, IUIAutomationCondition *condition,
                                                IUIAutomationElement **found) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindAll(int scope, IUIAutomationCondition *condition,
                                              IUIAutomationElementArray **found) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindFirstBuildCache(int scope, IUIAutomationCondition *condition,
                                                          IUIAutomationCacheRequest *request,
                                                          IUIAutomationElement **found) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindAllBuildCache(int scope, IUIAutomationCondition *condition,
                                                        IUIAutomationCacheRequest *request,
                                                        IUIAutomationElementArray **found) = 0;
    virtual HRESULT STDMETHODCALLTYPE BuildUpdatedCache(IUIAutomationCacheRequest *request,
                                                        IUIAutomationElement **updated) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPropertyValue(PROPERTYID property, VARIANT *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPropertyValueEx(PROPERTYID property, BOOL ignore_default,
                                                                VARIANT *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCachedPropertyValue(PROPERTYID property, VARIANT *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCachedPropertyValueEx(PROPERTYID property, BOOL ignore_default,
                                                               VARIANT *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPatternAs(PATTERNID pattern, REFIID iid, void **object) = 0;
};

struct IUIAutomation : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CompareElements(IUIAutomationElement *a, IUIAutomationElement *b, BOOL *same) = 0;
    virtual HRESULT STDMETHODCALLTYPE CompareRuntimeIds(SAFEARRAY *a, SAFEARRAY *b, BOOL *same) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRootElement(IUIAutomationElement **root) = 0;
    virtual HRESULT STDMETHODCALLTYPE ElementFromHandle(HWND window, IUIAutomationElement **element) = 0;
    virtual HRESULT STDMETHODCALLTYPE ElementFromPoint(POINT point, IUIAutomationElement **element) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFocusedElement(IUIAutomationElement **element) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRootElementBuildCache(IUIAutomationCacheRequest *request,
                                                               IUIAutomationElement **root) = 0;
    virtual HRESULT STDMETHODCALLTYPE ElementFromHandleBuildCache(HWND window, IUIAutomationCacheRequest *request,
                                                                  IUIAutomationElement **element) = 0;
    virtual HRESULT STDMETHODCALLTYPE ElementFromPointBuildCache(POINT point, IUIAutomationCacheRequest *request,
                                                                 IUIAutomationElement **element) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFocusedElementBuildCache(IUIAutomationCacheRequest *request,
                                                                  IUIAutomationElement **element) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateTreeWalker(IUIAutomationCondition *condition,
                                                       IUIAutomationTreeWalker **walker) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ControlViewWalker(IUIAutomationTreeWalker **walker) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ContentViewWalker(IUIAutomationTreeWalker **walker) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RawViewWalker(IUIAutomationTreeWalker **walker) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RawViewCondition(IUIAutomationCondition **condition) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ControlViewCondition(IUIAutomationCondition **condition) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ContentViewCondition(IUIAutomationCondition **condition) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateCacheRequest(IUIAutomationCacheRequest **request) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateTrueCondition(IUIAutomationCondition **condition) = 0;
};

struct IUIAutomationInvokePattern : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke() = 0;
};

struct IUIAutomationTogglePattern : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Toggle() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentToggleState(int *state) = 0;
};
