#include "ui/pages.h"

#include "core/format.h"
#include "core/process_values.h"
#include "core/status.h"
#include "install/version_store.h"

TASKDIALOGCONFIG ConfirmPage;

static TASKDIALOG_BUTTON ConfirmButtons[2];
static wchar_t ConfirmContent[700];

// The host of the default update server, named in the install content whatever "adres=" says.
static const wchar_t kUpdateHostPhrase[] = L"indir.tekvar.com.tr adresinden indirilir";

void BuildConfirmPage()
{
    char installed_utf8[32];
    wchar_t installed[32] = L"";
    bool has_version =
        ReadVersionPointer(InstallFolder, kPointerCurrent, installed_utf8, sizeof installed_utf8) == StatusOk;
    if (has_version)
        MultiByteToWideChar(CP_UTF8, 0, installed_utf8, -1, installed, 32);

    InitPageConfig(&ConfirmPage, PageConfirm);
    ConfirmPage.dwFlags |= TDF_ALLOW_DIALOG_CANCELLATION;
    ConfirmButtons[0] = {ButtonProceed, nullptr};
    ConfirmButtons[1] = {IDCANCEL, L"Vazgeç"};
    ConfirmPage.pButtons = ConfirmButtons;
    ConfirmPage.cButtons = 2;
    ConfirmPage.nDefaultButton = ButtonProceed;

    if (Options.mode == ModeRemoval) {
        ConfirmButtons[0].pszButtonText = L"Kaldır";
        ConfirmPage.pszMainInstruction = L"Talvor kaldırılsın mı?";
        ConfirmPage.pszContent = L"Talvor hizmeti durdurulur; program dosyaları, kısayollar ve başlangıç kaydı "
                                 L"silinir. İnternet bağlantın Talvor kurulmadan önceki haline döner.";
        ConfirmPage.pszVerificationText = L"Ayarlarımı ve bağlantı kayıtlarımı da sil";
        if (Options.delete_settings)
            ConfirmPage.dwFlags |= TDF_VERIFICATION_FLAG_CHECKED;
        return;
    }
    ConfirmButtons[0].pszButtonText = has_version ? L"Güncelle" : L"Kur";
    ConfirmPage.pszMainInstruction = has_version ? L"Talvor güncellenecek" : L"Talvor kurulacak";
    FormatWide(ConfirmContent, 700,
               L"%s%s%sKurulum dosyaları %s ve Tekvar Yazılım imzasıyla doğrulanır; imzası tutmayan dosya "
               L"kurulmaz.\n\nTalvor hiçbir kişisel veri toplamaz ve göndermez.",
               has_version ? L"Bu bilgisayarda Talvor " : L"", installed,
               has_version ? L" kurulu. En son sürüm kurulur; ayarların korunur.\n\n" : L"",
               Options.local_folder[0] != 0 ? L"bu klasörden okunur" : kUpdateHostPhrase);
    ConfirmPage.pszContent = ConfirmContent;
    AddConflictFooter(&ConfirmPage);
}
